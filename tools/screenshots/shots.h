#pragma once
// Screenshot drivers: each runs the dialogs of one module through its
// exported entries in their main states (offscreen) and writes a PNG per
// state into `dir` as "<dialog>-<state>.png".
#include <string>

void ShootGwProbe(const std::string& dir);
void ShootVnl2u32(const std::string& dir);
void ShootVnlui(const std::string& dir);
void ShootKvarui(const std::string& dir);
