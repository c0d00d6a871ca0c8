/* SPDX-License-Identifier: MIT */
/* Back to a server that has seen nothing. */
#include "fake_server.h"
#include "fake_internal.h"
#include "fake_screen.h"

void
fakeReset(void)
{
    fakeScreenLayersReset();
    fakeScreensReset();
    fakeExaReset();
    fakeNotifyFdsReset();
    fakeAtomsReset();
    fakeEntitiesReset();
    fakeConfigReset();
    fakeDriversReset();
    fakeMessagesReset();
    fakeControlReset();
    fakePresentReset();
}
