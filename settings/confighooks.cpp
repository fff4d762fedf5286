#include "settings/confighooks.h"

ConfigHooks& ConfigPageHooks()
{
    static ConfigHooks hooks;
    return hooks;
}
