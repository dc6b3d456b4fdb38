#pragma once

// True for the letters of the seven commands (U W M R V X B).
bool IsCommandLetter(char letter);

// Runs the command whose option stands at argv[index] and returns the run's
// result; the arguments after the command's own are never looked at.
int RunCommand(int index, int argc, char **argv);
