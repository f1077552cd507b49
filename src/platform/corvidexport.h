#pragma once

#include <QtGlobal>

// Marks the classes that the core library offers to other programs.
#if defined(CORVID_BUILDING_CORE)
#define CORVID_EXPORT Q_DECL_EXPORT
#else
#define CORVID_EXPORT Q_DECL_IMPORT
#endif
