#pragma once

// -R: reads the whole flash into FirmwareImage. Returns the byte count
// (0x8000), or a negative error code when the read could not be completed.
int ReadOutFlash();
