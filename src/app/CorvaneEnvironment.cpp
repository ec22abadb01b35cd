#include "CorvaneEnvironment.h"

#include "BuildSettings.h"

TCorvaneEnvironment TCorvaneEnvironment::FromBuild() {
    return {QString::fromUtf8(BuildSettings::AccountUrl), TS3ConnectionInfo::FromBuild(), {}};
}
