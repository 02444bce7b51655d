// The driver's commands, one function each: argv is the whole command line of the driver
// (argv[1] the command, argv[2] the result file); each returns 2 for a usage error, else 0 with
// what it saw in the report.
#pragma once

#include "report.h"

#include <string>

const DWORD kPollMs = 10;

std::string Narrow(const wchar_t *text);
long long Number(const wchar_t *text);
// Records the process's exit code under key, or "running".
void SetExit(Report &report, const std::string &key, HANDLE process);
// The window a command acts on, waited for up to 2 s; records "found" and gives its process id.
HWND FindTargetWindow(const wchar_t *className, const wchar_t *title, Report &report, DWORD *pid);

int RunCommand(int argc, wchar_t **argv, Report &report);
int StartCommand(int argc, wchar_t **argv, Report &report);
int DeliverCommand(int argc, wchar_t **argv, Report &report, bool send);
int BurstCommand(int argc, wchar_t **argv, Report &report);
int BoxesCommand(int argc, wchar_t **argv, Report &report);
int FindCommand(int argc, wchar_t **argv, Report &report);
int WaitGoneCommand(int argc, wchar_t **argv, Report &report);
int KillCommand(int argc, wchar_t **argv, Report &report);
// What a release installs (install.cpp).
int VersionCommand(int argc, wchar_t **argv, Report &report);
int ShortcutCommand(int argc, wchar_t **argv, Report &report);
int FoldersCommand(int argc, wchar_t **argv, Report &report);
int ProductsCommand(int argc, wchar_t **argv, Report &report);
int ActionCommand(int argc, wchar_t **argv, Report &report);
int UsageCommand(int argc, wchar_t **argv, Report &report);
