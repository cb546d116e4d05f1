#pragma once
// The two ways a run can go, chosen by the application object and defined by each program that links
// it (the updater itself, or a test that stands in for them).

class CFwUpBaseApp;

// Constructs the wizard sheet (caption "Wizard", no parent, start page 0, in wizard mode), runs it
// modally and destroys it again; its result is not used.
void RunWizardSheet(CFwUpBaseApp& app);

// The unattended update; returns the process's exit code (0 only after a successful update).
int RunSilentUpdate(CFwUpBaseApp& app);
