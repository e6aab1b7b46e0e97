// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Identifiers of the resources built into VELK_LOG.exe (resources.rc); read
// by the resource compiler too, so plain macros only.

// The window's icon, 32 x 32 and 16 x 16 in 16 colours; the first icon in
// the file, so Explorer and the taskbar show it as well.
#define kVelkIcon 1
