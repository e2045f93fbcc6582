// What gandrel does differently per platform; one implementation file per
// platform is compiled in (platform_posix.cc, platform_win32.cc).
#ifndef GANDREL_GANDREL_PLATFORM_H_
#define GANDREL_GANDREL_PLATFORM_H_

// True when the standard error stream is an interactive terminal, so that a
// progress bar drawn with carriage returns is seen rather than logged.
bool StderrIsTerminal();

#endif  // GANDREL_GANDREL_PLATFORM_H_
