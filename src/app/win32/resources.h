#pragma once
// The ids of the program's resources (pivzona12.rc).

/// The program's icon: the lowest id, so the first icon group of the program.
#define IDI_PIVZONA12 1
