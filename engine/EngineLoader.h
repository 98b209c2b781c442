// The engines' factories, found in the libraries beside the program's own file.
#pragma once

#include "interface/EngineInterface.h"

#include <string>

namespace engine_link {

using CastornFactory = ICastorn* (*)(ICastornNotify*);
using VistrelFactory = IVistrel* (*)(IVistrelNotify*);

// Null when the library, its factory or the engine cannot be had.
ICastorn* CreateCastorn(ICastornNotify* notify);
IVistrel* CreateVistrel(IVistrelNotify* notify);

// The folder of the running program, with a trailing '/'.
std::string ProgramFolder();

// Tests put engines of their own in place of the libraries; null restores them.
void SetFactories(CastornFactory castorn, VistrelFactory vistrel);

}  // namespace engine_link
