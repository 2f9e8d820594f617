// The walk of a configuration image's capability list to the AGP capability.
#include "agpcfg/agpcfg.h"
#include "pci_capability.h"

// The program and the kernel driver find the AGP capability by one rule, so the driver accepts
// writes to exactly the command register the program names.
int findAgpCapability(const BYTE* image) {
    return (int)pciFindCapabilityInImage(image, PCI_CAPABILITY_AGP, PCI_AGP_CAPABILITY_LENGTH);
}
