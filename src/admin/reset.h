// Every layer's process-wide state back to its value at load, in one call:
// what a test runs between cases, and what a program that hands its stores
// over may run to forget everything the library remembered (a retained
// control file is released, open listings are ended).
#pragma once

void reset_all();
