// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Application-wide events published through Listener<T>.

// Dispatched once when the event loop has ended, before everything is saved: a
// listener finishes what must not be lost (an open track segment, a pending write).
struct AppShutdownNotification {};
