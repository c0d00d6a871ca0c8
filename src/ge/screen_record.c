/* Where the EXA, Render and GC hooks find the GE record: they are given
 * only the screen (or a pixmap of it). */
#include "ge/ge.h"

/* The key of the screen's pointer to its record: the server's own way for
 * a layer to find its state from the screen its hooks are given. */
static DevPrivateKeyRec qelGeScreenKeyRec;

qelGe *
qelGeFromScreen(ScreenPtr screen)
{
    return dixLookupPrivate(&screen->devPrivates, &qelGeScreenKeyRec);
}

Bool
qelGeAttach(ScreenPtr screen, qelGe *ge)
{
    if (!dixRegisterPrivateKey(&qelGeScreenKeyRec, PRIVATE_SCREEN, 0))
        return FALSE;
    dixSetPrivate(&screen->devPrivates, &qelGeScreenKeyRec, ge);
    return TRUE;
}
