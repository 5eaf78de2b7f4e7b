// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The name of the network the device is on (the active NetworkManager connection);
// empty when it cannot be determined (no NetworkManager, no system bus, offline).
// GUI thread; makes a short blocking D-Bus call.
std::string getCurrentNetworkName();

// Replaces the lookup (tests, platforms without NetworkManager); null restores it.
void setNetworkNameProviderForTesting(std::string (*provider)());
