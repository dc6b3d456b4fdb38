#pragma once

// -X: rewrites the SVIDs of the chip's customer block. Returns 0, an error
// code, or the non-zero verify result.
int ProgramCustomerSvid();
