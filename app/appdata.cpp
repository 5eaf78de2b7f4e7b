// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDebug>

#include "app/appmodel.h"
#include "core/persistantdata.h"

// Loads what the subsystems keep between runs. Each subsystem adds its part here as it
// lands; a missing file is never an error (first start).
bool load_app_data() {
    return true;
}

// Saves everything that changed. Called at shutdown, when the application becomes
// inactive and whenever a subsystem changed one of its settings.
bool save_all_app_data() {
    PersistantData::SaveAll();
    return true;
}
