// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550-cli's scenes: "scene NAME", "scenes" and "scene-cancel". A scene is
// run by the line's owner when one serves the line, so that it stays one
// scene at a time on the line and waits share the owner's live state; with
// no owner and a scene file (--scenes), this process plays the owner's part
// on the port for the scene's length.

#include <iosfwd>
#include <string>

#include "cli/cli_options.h"

class SerialControl;

// The exit status: 0 every step ran (or the list or the cancel was done),
// 1 a step failed or the scene was stopped, 2 no such scene or a bad scene
// file, 3 the port or the owner could not be reached.
int runCliScenes(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    const std::string &ownerSocket);
