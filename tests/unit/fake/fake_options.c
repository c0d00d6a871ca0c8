/* SPDX-License-Identifier: MIT */
/* Option lists and option processing, modelled on the server's: names
 * compare without case, '_', ' ' and '\t'; a boolean option takes on/off,
 * true/false, yes/no, 1/0 or no value (on), and "No<name>" inverts it. */
#include "fake_server.h"
#include "fake_internal.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <optionstr.h>

static XF86OptionPtr
fakeOptionNext(XF86OptionPtr option)
{
    return (XF86OptionPtr) option->list.next;
}

XF86OptionPtr
fakeOptionListAppend(XF86OptionPtr head, XF86OptionPtr tail)
{
    XF86OptionPtr last;

    if (!head)
        return tail;
    for (last = head; fakeOptionNext(last); last = fakeOptionNext(last))
        ;
    last->list.next = (GenericListPtr) tail;
    return head;
}

XF86OptionPtr
fakeOptionAdd(XF86OptionPtr list, const char *name, const char *value)
{
    XF86OptionPtr option = XNFcallocarray(1, sizeof(*option));

    option->opt_name = XNFstrdup(name);
    option->opt_val = value ? XNFstrdup(value) : NULL;
    return fakeOptionListAppend(list, option);
}

void
fakeOptionListFree(XF86OptionPtr list)
{
    while (list) {
        XF86OptionPtr next = fakeOptionNext(list);

        free(list->opt_name);
        free(list->opt_val);
        free(list->opt_comment);
        free(list);
        list = next;
    }
}

XF86OptionPtr
fakeOptionListDuplicate(XF86OptionPtr list)
{
    XF86OptionPtr copy = NULL;

    for (; list; list = fakeOptionNext(list))
        copy = fakeOptionAdd(copy, list->opt_name, list->opt_val);
    return copy;
}

static const char *
fakeSkipBlanks(const char *s)
{
    while (*s == '_' || *s == ' ' || *s == '\t')
        s++;
    return s;
}

int
xf86NameCmp(const char *s1, const char *s2)
{
    if (!s1 || !s2)
        return s1 == s2 ? 0 : (s1 ? 1 : -1);
    for (;;) {
        int c1, c2;

        s1 = fakeSkipBlanks(s1);
        s2 = fakeSkipBlanks(s2);
        c1 = tolower((unsigned char) *s1);
        c2 = tolower((unsigned char) *s2);
        if (c1 != c2 || c1 == '\0')
            return c1 - c2;
        s1++;
        s2++;
    }
}

static XF86OptionPtr
fakeOptionFind(XF86OptionPtr options, const char *name)
{
    for (; options; options = fakeOptionNext(options))
        if (xf86NameCmp(options->opt_name, name) == 0)
            return options;
    return NULL;
}

const char *
xf86FindOptionValue(XF86OptionPtr options, const char *name)
{
    XF86OptionPtr option;

    fakeCall("xf86FindOptionValue");
    option = fakeOptionFind(options, name);
    if (!option)
        return NULL;
    return option->opt_val ? option->opt_val : "";
}

void
xf86CollectOptions(ScrnInfoPtr scrn, XF86OptionPtr extraOpts)
{
    fakeCall("xf86CollectOptions");
    scrn->options = NULL;
    for (int i = scrn->numEntities - 1; i >= 0; i--) {
        GDevPtr device = fakeEntityDevice(scrn->entityList[i]);

        if (device)
            scrn->options = fakeOptionListAppend(scrn->options,
                                                 fakeOptionListDuplicate(device->options));
    }
    if (scrn->monitor)
        scrn->options = fakeOptionListAppend(scrn->options,
                                             fakeOptionListDuplicate(scrn->monitor->options));
    if (scrn->confScreen)
        scrn->options = fakeOptionListAppend(scrn->options,
                                             fakeOptionListDuplicate(scrn->confScreen->options));
    scrn->options = fakeOptionListAppend(scrn->options, fakeOptionListDuplicate(extraOpts));
}

static Bool
fakeParseBool(const char *value, Bool *result)
{
    static const char *const yes[] = { "", "1", "on", "true", "yes" };
    static const char *const no[] = { "0", "off", "false", "no" };

    for (size_t i = 0; i < sizeof(yes) / sizeof(yes[0]); i++)
        if (xf86NameCmp(value, yes[i]) == 0)
            return *result = TRUE, TRUE;
    for (size_t i = 0; i < sizeof(no) / sizeof(no[0]); i++)
        if (xf86NameCmp(value, no[i]) == 0)
            return *result = FALSE, TRUE;
    return FALSE;
}

static void
fakeProcessBool(int scrnIndex, XF86OptionPtr options, OptionInfoPtr info)
{
    XF86OptionPtr option = fakeOptionFind(options, info->name);
    Bool inverted = FALSE;
    Bool value;

    if (!option && xf86NameCmp(info->name, "") != 0) {
        char negated[128] = "No";

        strncat(negated, info->name, sizeof(negated) - 3);
        option = fakeOptionFind(options, negated);
        inverted = option != NULL;
    }
    if (!option)
        return;
    option->opt_used = TRUE;
    if (!fakeParseBool(option->opt_val ? option->opt_val : "", &value)) {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires a boolean value\n",
                   option->opt_name);
        return;
    }
    info->value.boolean = inverted ? !value : value;
    info->found = TRUE;
}

static void
fakeProcessOther(XF86OptionPtr options, OptionInfoPtr info)
{
    XF86OptionPtr option = fakeOptionFind(options, info->name);
    char *end;

    if (!option)
        return;
    option->opt_used = TRUE;
    switch (info->type) {
    case OPTV_STRING:
    case OPTV_ANYSTR:
        info->value.str = option->opt_val;
        info->found = TRUE;
        break;
    case OPTV_INTEGER:
        if (!option->opt_val)
            return;
        info->value.num = strtol(option->opt_val, &end, 0);
        info->found = *end == '\0';
        break;
    default:
        break;
    }
}

void
xf86ProcessOptions(int scrnIndex, XF86OptionPtr options, OptionInfoPtr optinfo)
{
    fakeCall("xf86ProcessOptions");
    for (OptionInfoPtr info = optinfo; info->name; info++) {
        if (info->type == OPTV_BOOLEAN)
            fakeProcessBool(scrnIndex, options, info);
        else
            fakeProcessOther(options, info);
    }
}

static const OptionInfoRec *
fakeOptionByToken(const OptionInfoRec *table, int token)
{
    for (; table->token >= 0; table++)
        if (table->token == token)
            return table;
    return NULL;
}

Bool
xf86ReturnOptValBool(const OptionInfoRec *table, int token, Bool def)
{
    const OptionInfoRec *info = fakeOptionByToken(table, token);

    fakeCall("xf86ReturnOptValBool");
    return info && info->found ? info->value.boolean : def;
}

Bool
xf86GetOptValBool(const OptionInfoRec *table, int token, Bool *value)
{
    const OptionInfoRec *info = fakeOptionByToken(table, token);

    if (!info || !info->found)
        return FALSE;
    *value = info->value.boolean;
    return TRUE;
}

Bool
xf86IsOptionSet(const OptionInfoRec *table, int token)
{
    const OptionInfoRec *info = fakeOptionByToken(table, token);

    return info && info->found;
}
