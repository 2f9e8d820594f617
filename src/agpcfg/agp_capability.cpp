// The walk of a configuration image's capability list to the AGP capability.
#include "agpcfg/agpcfg.h"

enum : int {
    CAPABILITIES_POINTER = 0x34,
    CONFIG_SPACE_SIZE = 256,
};

// Pointers are taken as they stand. A chain that comes back to an entry it has visited, or whose
// entry sits in the last byte (its next pointer would lie outside the image), ends the walk.
int findAgpCapability(const BYTE* image) {
    bool visited[CONFIG_SPACE_SIZE] = {};
    int entry = image[CAPABILITIES_POINTER];
    while (entry != 0 && !visited[entry]) {
        visited[entry] = true;
        if (image[entry] == AGP_CAPABILITY_ID)
            return entry;
        if (entry + 1 >= CONFIG_SPACE_SIZE)
            return 0;
        entry = image[entry + 1];
    }
    return 0;
}
