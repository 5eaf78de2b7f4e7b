// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which thread may call what, checked where it matters. The GUI thread owns the event
// loop and every object that the user interface or the heartbeat drives: the chart
// catalogue, the chart views, the overlays, the publish/subscribe dispatch and the UI
// services. A function that belongs to it starts with NV_ASSERT_GUI_THREAD(); called on
// any other thread it stops the program with a message naming the function.
//
// Checked builds are debug builds (no NDEBUG) and any build with NAVORA_THREAD_CHECKS
// defined (the ThreadSanitizer build); elsewhere the macro compiles to nothing.

#include <QtGlobal>

#if !defined(NDEBUG) || defined(NAVORA_THREAD_CHECKS)
#define NV_THREAD_CHECKS_ENABLED 1
#define NV_ASSERT_GUI_THREAD() ::NvAssertGuiThread(Q_FUNC_INFO)
#else
#define NV_THREAD_CHECKS_ENABLED 0
#define NV_ASSERT_GUI_THREAD() static_cast<void>(0)
#endif

// Whether the caller runs on the GUI thread: the thread of the application object, or
// any thread while there is none (command-line tools before they make one).
bool NvIsGuiThread();
// Stops with a message naming `function` unless NvIsGuiThread().
void NvAssertGuiThread(const char* function);
