#pragma once

// Binds chip_link from link_kind and opens it, closing and retrying once
// after 100 ms; on the I2C links proves that a chip answers. Returns 0, or
// ERR_CHIP_NOT_FOUND.
int Connect();

// The scratch-register test: 1 when a chip answered, 0 when not.
int ProbeChip();

// Connect, then print the running firmware version. Returns Connect's result
// (after printing "Could not find chip(%d)" on failure).
int ConnectAndReport();
