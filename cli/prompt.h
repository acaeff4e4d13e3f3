// The questions asked before a run.
#pragma once

// A question the dialog asks before a run (No by default): yes with --yes,
// asked on a terminal, refused without one.
bool CliConfirm(const char *question, bool yes);
