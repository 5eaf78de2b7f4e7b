// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Registers every type of the com.navora.nv module (generated from navora_qml_types.h).
// The program and the tests of QML items call it once before loading any QML.
void qml_register_types_com_navora_nv();
