// Everything of the framework in one include.
#pragma once

#include "framework/sysutils.h"
#include "framework/events.h"
#include "framework/typinfo.h"
#include "framework/classes.h"
#include "framework/streams.h"
#include "framework/filer.h"
#ifdef _WIN32
#include "framework/types.h"
#include "framework/graphics.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/menus.h"
#include "framework/registry.h"
#include "framework/winstreams.h"
#endif
