/* The minimal host through the flat interface, in plain C: set-up, start the
 * tracker, read the result and the projection matrix, stop.
 *   vornik_minimal_host_c [assetDir group appDataDir] */
#include <stdio.h>
#include <string.h>

#include "vornik/vornik_c.h"

static void printLine(const char* line) {
  size_t length = strlen(line);
  fputs(line, stdout);
  if (length == 0 || line[length - 1] != '\n') fputc('\n', stdout);
}

int main(int argc, char** argv) {
  int count;
  int i;
  float projection[16];

  setLogCallback(printLine);
  setAppDataDirPath(argc > 3 ? argv[3] : ".");
  setArdbAssetDirPath(argc > 1 ? argv[1] : ".");
  addTrackableGroup(argc > 2 ? argv[2] : "targets.grp");
  startTracker();
  updateRendering(1280, 720);

  count = getTrackableCount();
  printf("trackables in view: %d\n", count);
  for (i = 0; i < count; ++i) {
    char id[34];
    float pose[16];
    float size[2];
    getTrackableInfo(i, id, pose, size);
    printf("  %s: %.0f x %.0f at %.1f %.1f %.1f\n", id, size[0], size[1], pose[12], pose[13],
           pose[14]);
  }
  getProjectionMatrix(projection);
  printf("projection diagonal: %g %g %g %g\n", projection[0], projection[5], projection[10],
         projection[15]);

  destroy();
  setLogCallback(NULL);
  printf("minimal C host done\n");
  return 0;
}
