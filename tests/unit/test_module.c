/* SPDX-License-Identifier: MIT */
/* What the server's loader and probe code see of the module: the records it
 * looks up, the one-time setup, the driver's entry points and the probe. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cmocka.h>

#include "driver/qel.h"
#include "fake_server.h"

#include <xf86Module.h>

extern XF86ModuleData qelModuleData;

static int
resetServer(void **state)
{
    (void) state;
    fakeReset();
    return 0;
}

/* ---- loading ---- */

static void
version_record_matches_the_server_it_was_built_for(void **state)
{
    const XF86ModuleVersionInfo *version = qelModuleData.vers;

    (void) state;
    assert_string_equal(version->modname, "qel");
    assert_string_equal(version->vendor, MODULEVENDORSTRING);
    assert_int_equal(version->_modinfo1_, MODINFOSTRING1);
    assert_int_equal(version->_modinfo2_, MODINFOSTRING2);
    assert_int_equal(version->xf86version, XORG_VERSION_CURRENT);
    assert_int_equal(version->majorversion, 1);
    assert_int_equal(version->minorversion, 2);
    assert_int_equal(version->patchlevel, 0);
    assert_string_equal(version->abiclass, ABI_CLASS_VIDEODRV);
    assert_int_equal(version->abiversion, ABI_VIDEODRV_VERSION);
    assert_string_equal(version->moduleclass, MOD_CLASS_VIDEODRV);
    for (int i = 0; i < 4; i++)
        assert_int_equal(version->checksum[i], 0);
    assert_null(qelModuleData.teardown);
}

/* The setup flag lives as long as the process, so the whole sequence of
 * loads is one case. */
static void
setup_registers_the_driver_only_once(void **state)
{
    int module = 0;
    int errmaj = -1, errmin = -1;
    const fakeAddedDriver *added;

    (void) state;
    assert_ptr_equal(qelModuleData.setup(&module, NULL, &errmaj, &errmin), (void *) 1);
    assert_int_equal(fakeAddedDriverCount(), 1);
    added = fakeAddedDriverAt(0);
    assert_ptr_equal(added->driver, &QEL);
    assert_ptr_equal(added->module, &module);
    assert_int_equal(added->flags, HaveDriverFuncs);

    assert_null(qelModuleData.setup(&module, NULL, &errmaj, &errmin));
    assert_int_equal(errmaj, LDR_ONCEONLY);
    assert_int_equal(errmin, -1);

    errmaj = -1;
    assert_null(qelModuleData.setup(&module, NULL, NULL, NULL));
    assert_int_equal(errmaj, -1);

    assert_int_equal(fakeAddedDriverCount(), 1);
    assert_int_equal(fakeMessageCount(), 0);
}

/* ---- the driver record ---- */

static void
driver_record_offers_only_the_platform_probe(void **state)
{
    (void) state;
    assert_int_equal(QEL.driverVersion, 1);
    assert_string_equal(QEL.driverName, "qel");
    assert_null(QEL.Probe);
    assert_null(QEL.PciProbe);
    assert_null(QEL.supported_devices);
    assert_non_null(QEL.Identify);
    assert_non_null(QEL.AvailableOptions);
    assert_non_null(QEL.driverFunc);
    assert_non_null(QEL.platformProbe);
}

static void
identify_prints_the_banner(void **state)
{
    const fakeMessage *message;

    (void) state;
    QEL.Identify(0);
    assert_int_equal(fakeMessageCount(), 1);
    message = fakeMessageAt(0);
    assert_int_equal(message->level, X_INFO);
    assert_int_equal(message->scrnIndex, -1);
    assert_string_equal(message->text, "qel: driver for the Kellaventis TX3120 (GE 2D)\n");
}

/* The word after the answer is a guard: the answer is one 32-bit word. No
 * I/O and no HW_SKIP_CONSOLE: the server owns a VT for the screen. */
static void
driver_func_asks_for_no_hardware_access_but_the_console(void **state)
{
    CARD32 words[2] = { 0xffffffffu, 0xa5a5a5a5u };

    (void) state;
    assert_true(QEL.driverFunc(NULL, GET_REQUIRED_HW_INTERFACES, words));
    assert_int_equal(words[0], 0);
    assert_int_equal(words[1], 0xa5a5a5a5u);

    words[0] = HW_IO | HW_MMIO | HW_SKIP_CONSOLE;
    assert_true(QEL.driverFunc(NULL, GET_REQUIRED_HW_INTERFACES, words));
    assert_int_equal(words[0], 0);
}

static void
driver_func_refuses_every_other_operation_untouched(void **state)
{
    xorgDriverFuncOp others[] = { SUPPORTS_SERVER_FDS, RR_GET_INFO, RR_SET_CONFIG,
                                  RR_GET_MODE_MM };
    unsigned char data[64];

    (void) state;
    for (size_t i = 0; i < sizeof(others) / sizeof(others[0]); i++) {
        unsigned char before[sizeof(data)];

        memset(data, 0x5a, sizeof(data));
        memcpy(before, data, sizeof(data));
        assert_false(QEL.driverFunc(NULL, others[i], data));
        assert_memory_equal(data, before, sizeof(data));
    }
}

/* ---- options ---- */

static void
option_table_is_the_same_for_every_chip_and_bus(void **state)
{
    int queries[][2] = { { 0, BUS_NONE }, { -1, BUS_PLATFORM }, { 0x1234, BUS_PCI },
                         { 7, BUS_USB } };
    const OptionInfoRec *table = QEL.AvailableOptions(0, BUS_PLATFORM);

    (void) state;
    for (size_t i = 0; i < sizeof(queries) / sizeof(queries[0]); i++)
        assert_ptr_equal(QEL.AvailableOptions(queries[i][0], queries[i][1]), table);

    assert_int_equal(table[0].token, OPTION_ACCEL);
    assert_string_equal(table[0].name, "Accel");
    assert_int_equal(table[0].type, OPTV_BOOLEAN);
    assert_false(table[0].found);
    assert_int_equal(table[1].token, OPTION_TEARFREE);
    assert_string_equal(table[1].name, "TearFree");
    assert_int_equal(table[1].type, OPTV_BOOLEAN);
    assert_false(table[1].found);
    assert_int_equal(table[2].token, OPTION_SW_CURSOR);
    assert_string_equal(table[2].name, "SWcursor");
    assert_int_equal(table[2].type, OPTV_BOOLEAN);
    assert_int_equal(table[3].token, -1);
    assert_null(table[3].name);
    assert_int_equal(table[3].type, OPTV_NONE);
}

/* ---- the platform probe ---- */

static void
probe_declines_to_be_a_gpu_screen(void **state)
{
    int entity = fakeEntityAddPlatform(NULL, 0, "/dev/dri/card0", -1);

    (void) state;
    assert_false(QEL.platformProbe(&QEL, entity, PLATFORM_PROBE_GPU_SCREEN, NULL, 0));
    assert_int_equal(fakeCallCount("xf86AllocateScreen"), 0);
    assert_int_equal(fakeCallCount("xf86AddEntityToScreen"), 0);
    assert_int_equal(fakeScreenCount(), 0);
    assert_int_equal(fakeMessageCount(), 0);
}

static void
expectProbedScreen(ScrnInfoPtr scrn, int entity)
{
    assert_int_equal(scrn->numEntities, 1);
    assert_int_equal(scrn->entityList[0], entity);
    assert_int_equal(scrn->driverVersion, 1);
    assert_string_equal(scrn->driverName, "qel");
    assert_string_equal(scrn->name, "QEL");
    assert_null(scrn->Probe);
    assert_ptr_equal(scrn->PreInit, qelPreInit);
    assert_ptr_equal(scrn->ScreenInit, qelScreenInit);
    assert_ptr_equal(scrn->SwitchMode, qelSwitchMode);
    assert_ptr_equal(scrn->AdjustFrame, qelAdjustFrame);
    assert_ptr_equal(scrn->EnterVT, qelEnterVT);
    assert_ptr_equal(scrn->LeaveVT, qelLeaveVT);
    assert_ptr_equal(scrn->FreeScreen, qelFreeScreen);
    assert_ptr_equal(scrn->ValidMode, qelValidMode);
    /* The device is neither opened nor looked at before PreInit. */
    assert_null(scrn->driverPrivate);
}

static void
probe_makes_one_screen_per_device_whatever_its_attributes(void **state)
{
    int plain = fakeEntityAddPlatform(NULL, 0, "/dev/dri/card0", -1);
    int serverFd = fakeEntityAddPlatform(NULL, XF86_PDEV_SERVER_FD, NULL, 42);
    int other = fakeEntityAddOther(NULL);
    struct xf86_platform_device device = { 0 };

    (void) state;
    assert_true(QEL.platformProbe(&QEL, plain, 0, &device, 0));
    assert_true(QEL.platformProbe(&QEL, serverFd, 0, NULL, 0));
    assert_true(QEL.platformProbe(&QEL, other, 0, &device, (intptr_t) -1));
    assert_int_equal(fakeScreenCount(), 3);
    expectProbedScreen(fakeScreenAt(0), plain);
    expectProbedScreen(fakeScreenAt(1), serverFd);
    expectProbedScreen(fakeScreenAt(2), other);
    assert_int_equal(fakeMessageCount(), 0);
}

static void
probe_fails_when_the_server_has_no_screen_to_give(void **state)
{
    int entity = fakeEntityAddPlatform(NULL, 0, "/dev/dri/card0", -1);

    (void) state;
    fakeFail("xf86AllocateScreen", 0, 1);
    assert_false(QEL.platformProbe(&QEL, entity, 0, NULL, 0));
    assert_int_equal(fakeCallCount("xf86AddEntityToScreen"), 0);
    assert_int_equal(fakeScreenCount(), 0);
    assert_int_equal(fakeMessageCount(), 0);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_teardown(version_record_matches_the_server_it_was_built_for,
                                  resetServer),
        cmocka_unit_test_teardown(setup_registers_the_driver_only_once, resetServer),
        cmocka_unit_test_teardown(driver_record_offers_only_the_platform_probe, resetServer),
        cmocka_unit_test_teardown(identify_prints_the_banner, resetServer),
        cmocka_unit_test_teardown(driver_func_asks_for_no_hardware_access_but_the_console,
                                  resetServer),
        cmocka_unit_test_teardown(driver_func_refuses_every_other_operation_untouched,
                                  resetServer),
        cmocka_unit_test_teardown(option_table_is_the_same_for_every_chip_and_bus,
                                  resetServer),
        cmocka_unit_test_teardown(probe_declines_to_be_a_gpu_screen, resetServer),
        cmocka_unit_test_teardown(probe_makes_one_screen_per_device_whatever_its_attributes,
                                  resetServer),
        cmocka_unit_test_teardown(probe_fails_when_the_server_has_no_screen_to_give,
                                  resetServer),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
