// The questions asked before a run.
#pragma once

struct Firmware;

// A question the dialog asks before a run (No by default): yes with --yes,
// asked on a terminal, refused without one.
bool CliConfirm(const char *question, bool yes);
// The checks before an upload: a refusal told on stderr, each question
// as CliConfirm asks it. True when the upload may go on.
bool CliPassChecks(const Firmware &firmware, bool yes);
