#pragma once
// The control page under "/$int": buttons for the log and variables pop-ups, the choice of a
// start page, and the two folder browsers. The start-page choices come from
// startPageChoices() of the static pages, so the welcome page and the control page list the same
// files.

#include "server/StaticFiles.h"
