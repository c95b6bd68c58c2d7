// The storage devices of the workstation: "@:" for the network storage of a
// networked workstation, drive A: whenever it exists, and every other drive
// that holds a storage tree (x:\userroot\storage).
#pragma once

// Starts a listing: the first device name, or null when there is none.
// The name is valid until the next step of the listing.
const char* device_first();
// The next device name of the listing, or null at its end.
const char* device_next();

