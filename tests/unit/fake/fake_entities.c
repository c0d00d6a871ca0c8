/* SPDX-License-Identifier: MIT */
/* The server's entities: the devices its bus probes found, each with the
 * Device section that claimed it. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_MAX_ENTITIES 8
#define FAKE_MAX_DEVICE_SECTIONS 8

typedef struct fakeEntity {
    BusRec bus;
    GDevPtr device;
    Bool inUse;
    struct xf86_platform_device platformDevice;
    struct OdevAttributes attributes;
} fakeEntity;

/* Fixed storage: the driver keeps pointers to the platform devices. */
static fakeEntity entities[FAKE_MAX_ENTITIES];
static int entityCount;
static GDevPtr deviceSections[FAKE_MAX_DEVICE_SECTIONS];
static int deviceSectionCount;

static fakeEntity *
fakeEntityNew(GDevPtr device, BusType type)
{
    fakeEntity *entity;

    if (entityCount == FAKE_MAX_ENTITIES) {
        fprintf(stderr, "fake server: too many entities\n");
        abort();
    }
    entity = &entities[entityCount++];
    memset(entity, 0, sizeof(*entity));
    entity->bus.type = type;
    entity->device = device;
    return entity;
}

int
fakeEntityAddPlatform(GDevPtr device, int pdevFlags, const char *path, int fd)
{
    fakeEntity *entity = fakeEntityNew(device, BUS_PLATFORM);

    entity->attributes.path = path ? XNFstrdup(path) : NULL;
    entity->attributes.fd = fd;
    entity->platformDevice.attribs = &entity->attributes;
    entity->platformDevice.flags = pdevFlags;
    entity->bus.id.plat = &entity->platformDevice;
    return entityCount - 1;
}

int
fakeEntityAddOther(GDevPtr device)
{
    fakeEntityNew(device, BUS_NONE);
    return entityCount - 1;
}

GDevPtr
fakeDeviceSectionCreate(XF86OptionPtr options)
{
    GDevPtr device;

    if (deviceSectionCount == FAKE_MAX_DEVICE_SECTIONS) {
        fprintf(stderr, "fake server: too many Device sections\n");
        abort();
    }
    device = XNFcallocarray(1, sizeof(*device));
    device->identifier = "Card0";
    device->driver = "qel";
    device->options = options;
    deviceSections[deviceSectionCount++] = device;
    return device;
}

Bool
fakeEntityExists(int entityIndex)
{
    return entityIndex >= 0 && entityIndex < entityCount;
}

GDevPtr
fakeEntityDevice(int entityIndex)
{
    return fakeEntityExists(entityIndex) ? entities[entityIndex].device : NULL;
}

BusRec
fakeEntityBus(int entityIndex)
{
    return entities[entityIndex].bus;
}

void
xf86AddEntityToScreen(ScrnInfoPtr scrn, int entityIndex)
{
    fakeCall("xf86AddEntityToScreen");
    if (entityIndex == -1)
        return;
    if (!fakeEntityExists(entityIndex) || entities[entityIndex].inUse) {
        fprintf(stderr, "fake server: entity %d cannot be added to a screen\n", entityIndex);
        abort();
    }
    entities[entityIndex].inUse = TRUE;
    scrn->numEntities++;
    scrn->entityList = XNFreallocarray(scrn->entityList, scrn->numEntities, sizeof(int));
    scrn->entityList[scrn->numEntities - 1] = entityIndex;
    scrn->entityInstanceList =
        XNFreallocarray(scrn->entityInstanceList, scrn->numEntities, sizeof(int));
    scrn->entityInstanceList[scrn->numEntities - 1] = 0;
}

/* Like the server, a new record for every call: the caller owns it. */
EntityInfoPtr
xf86GetEntityInfo(int entityIndex)
{
    EntityInfoPtr info;

    fakeCall("xf86GetEntityInfo");
    if (!fakeEntityExists(entityIndex))
        return NULL;
    info = XNFcallocarray(1, sizeof(*info));
    info->index = entityIndex;
    info->location = entities[entityIndex].bus;
    info->active = TRUE;
    info->device = entities[entityIndex].device;
    return info;
}

void
fakeEntityReleaseScreen(ScrnInfoPtr scrn)
{
    for (int i = 0; i < scrn->numEntities; i++)
        if (fakeEntityExists(scrn->entityList[i]))
            entities[scrn->entityList[i]].inUse = FALSE;
}

void
fakeEntitiesReset(void)
{
    for (int i = 0; i < entityCount; i++)
        free(entities[i].attributes.path);
    memset(entities, 0, sizeof(entities));
    entityCount = 0;
    for (int i = 0; i < deviceSectionCount; i++) {
        fakeOptionListFree(deviceSections[i]->options);
        free(deviceSections[i]);
    }
    deviceSectionCount = 0;
}
