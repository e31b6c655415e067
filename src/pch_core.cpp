// SPDX-License-Identifier: GPL-3.0-or-later
// The precompiled headers' own targets compile nothing else.
