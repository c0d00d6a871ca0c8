/* The driver's own Render and shared-memory procedures, put on top of the
 * acceleration layer's once EXA is up (src/ge/render.c says why). EXA's
 * CloseScreen restores the procedures it found, fb's, which also takes
 * these off again. */
#include "qel.h"

#include <picturestr.h>
#include <shmint.h>

#include "ge/render.h"

void
qelInstallRenderHooks(ScreenPtr screen)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(screen);
    PictureScreenPtr ps = GetPictureScreenIfSet(screen);

    priv->exaCreatePixmap = screen->CreatePixmap;
    screen->CreatePixmap = qelCreatePixmap;
    if (qelRegisterGCPrivate()) {
        priv->exaCreateGC = screen->CreateGC;
        screen->CreateGC = qelCreateGC;
    }
    if (ps) {
        priv->exaComposite = ps->Composite;
        ps->Composite = qelComposite;
        ps->Glyphs = qelGlyphs;
        ps->Trapezoids = qelTrapezoids;
        ps->Triangles = qelTriangles;
        ps->AddTraps = qelAddTraps;
    }
    /* EXA refuses shared-memory pixmaps; they live in the client's memory,
     * where fb makes them and software draws on them. */
    ShmRegisterFbFuncs(screen);
}
