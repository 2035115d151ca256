#pragma once
// The set point and integrator records (0x0300, 0x0301) are derived from the
// source tables 0x0900 and 0x0901, choosing the part that fits the card's
// domain (low byte of data word 1 of PDR 0x0103).

namespace varnel {

class CPda;

// 1: both derived records set; 0: a source record is missing or has the
// wrong length; -1: the domain is not recognised. The PDA changes only on 1.
int ConfigureSetPointAndIntegrator(CPda& pda);

// What is said of ConfigureSetPointAndIntegrator's result.
const char* SetPointText(int result);

}  // namespace varnel
