// SPDX-License-Identifier: GPL-3.0-or-later
// The target the tests' precompiled header is built with; nothing of its own.
