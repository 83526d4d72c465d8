#pragma once

namespace vornik {

// Called when an exported function starts the capture or tracking thread.
// From then on the library stops both threads itself, before anything they
// use is torn down, if the host exits or unloads the library without
// stopping them.
void stopThreadsAtExit();

// Stops the tracker and the camera (the end sequence a host should call);
// does nothing when no thread was started since the last stop.
void stopLibraryThreads();

}  // namespace vornik
