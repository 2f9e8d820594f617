// The I/O manager's side of the emulated kernel: IRPs for create, close and device control with
// buffered I/O, the unload, and what the tests read of the kernel.
#include "ntdriver/kernel_state.h"

#include <algorithm>

namespace ntdriver {
namespace {

const uint8_t kUntouched = 0xBD;
const uint32_t kNotSet = 0xCCCCCCCC;

bool isError(uint32_t status) {
    return (status >> 30) == 3;
}

uint64_t newFileObject(NtKernel::State& k, uint64_t device, const std::u16string& name,
                       uint64_t related) {
    const Layout& l = *k.layout;
    const uint64_t file = k.allocate(l.fileSize);
    k.write(file, 5, 2); // IO_TYPE_FILE
    k.write(file + 2, l.fileSize, 2);
    k.writePointer(file + l.fileDeviceObject, device);
    k.writePointer(file + l.fileRelated, related);
    const uint64_t string = k.makeUnicodeString(name);
    k.writeBytes(file + l.fileName, k.readBytes(string, l.usSize));
    return file;
}

// Builds an IRP with one stack location, calls the driver's dispatch routine for `major` and plays
// the I/O manager's completion: the output of a buffered request is what IoStatus.Information
// says, copied from the system buffer when the status is not an error.
IrpOutcome sendIrp(NtKernel::State& k, uint8_t major, uint64_t file, uint32_t code,
                   const std::vector<uint8_t>& input, uint32_t outputLength) {
    IrpOutcome outcome;
    const Layout& l = *k.layout;
    const uint64_t device = k.readPointer(k.driver + l.drvDeviceObject);
    if (!device) {
        k.fault = "the driver has no device";
        return outcome;
    }
    const uint64_t regionStart = k.systemBuffer;
    const uint32_t bufferSize =
        std::max<uint32_t>(static_cast<uint32_t>(input.size()), outputLength);
    if (bufferSize > kSystemBufferSize) {
        k.fault = "a request larger than the system buffer region";
        return outcome;
    }
    // The buffer ends where the region ends, so that a byte written past it faults.
    const uint64_t buffer = regionStart + kSystemBufferSize - bufferSize;
    k.writeBytes(regionStart, std::vector<uint8_t>(kSystemBufferSize, kUntouched));
    k.writeBytes(buffer, input);

    const uint64_t irp = k.allocate(l.irpSize + l.stkSize);
    const uint64_t stack = irp + l.irpSize;
    k.write(irp, 6, 2); // IO_TYPE_IRP
    k.write(irp + 2, l.irpSize + l.stkSize, 2);
    k.writePointer(irp + l.irpSystemBuffer, bufferSize ? buffer : 0);
    k.write(irp + l.irpStatus, kNotSet, 4);
    k.writePointer(irp + l.irpInformation, kNotSet);
    k.write(irp + l.irpRequestorMode, 1, 1); // UserMode
    k.write(irp + l.irpStackCount, 1, 1);
    k.write(irp + l.irpCurrentLocation, 1, 1);
    k.writePointer(irp + l.irpCurrentStackLocation, stack);
    k.write(stack, major, 1);
    k.write(stack + l.stkOutputLength, outputLength, 4);
    k.write(stack + l.stkInputLength, static_cast<uint32_t>(input.size()), 4);
    k.write(stack + l.stkCode, code, 4);
    k.writePointer(stack + l.stkDeviceObject, device);
    k.writePointer(stack + l.stkFileObject, file);

    k.completions.clear();
    const uint64_t dispatch = k.readPointer(k.driver + l.drvMajorFunction + l.pointer * major);
    bool completed = false;
    outcome.returned = static_cast<uint32_t>(k.call(dispatch, {device, irp}, &completed));
    outcome.completed = completed;
    for (const NtKernel::State::Completion& c : k.completions)
        if (c.irp == irp) {
            ++outcome.completions;
            outcome.boost = c.boost;
            outcome.status = c.status;
            outcome.information = c.information;
        }
    outcome.systemBuffer = k.readBytes(buffer, bufferSize);
    outcome.output.assign(outputLength, kUntouched);
    if (outcome.completions == 1 && !isError(outcome.status) && major == IRP_MJ_DEVICE_CONTROL) {
        if (outcome.information > outputLength)
            k.fault = "IoStatus.Information exceeds the caller's output buffer";
        else
            std::copy(outcome.systemBuffer.begin(),
                      outcome.systemBuffer.begin() + static_cast<long>(outcome.information),
                      outcome.output.begin());
    }
    outcome.completed = outcome.completed && k.fault.empty();
    return outcome;
}

} // namespace

IrpOutcome NtKernel::create(const std::u16string& fileName, bool relatedFile) {
    State& k = *m;
    const uint64_t device = k.readPointer(k.driver + k.layout->drvDeviceObject);
    const uint64_t related = relatedFile ? newFileObject(k, device, u"", 0) : 0;
    return sendIrp(k, IRP_MJ_CREATE, newFileObject(k, device, fileName, related), 0, {}, 0);
}

IrpOutcome NtKernel::close() {
    State& k = *m;
    const uint64_t device = k.readPointer(k.driver + k.layout->drvDeviceObject);
    return sendIrp(k, IRP_MJ_CLOSE, newFileObject(k, device, u"", 0), 0, {}, 0);
}

IrpOutcome NtKernel::deviceControl(uint32_t code, const std::vector<uint8_t>& input,
                                   uint32_t outputLength) {
    State& k = *m;
    const uint64_t device = k.readPointer(k.driver + k.layout->drvDeviceObject);
    return sendIrp(k, IRP_MJ_DEVICE_CONTROL, newFileObject(k, device, u"", 0), code, input,
                   outputLength);
}

bool NtKernel::unload() {
    State& k = *m;
    bool completed = false;
    k.call(unloadRoutine(), {k.driver}, &completed);
    return completed;
}

const std::string& NtKernel::fault() const {
    return m->fault;
}
uint64_t NtKernel::majorFunction(int index) const {
    return m->readPointer(m->driver + m->layout->drvMajorFunction + m->layout->pointer * index);
}
uint64_t NtKernel::defaultDispatch() const {
    return m->defaultDispatch;
}
uint64_t NtKernel::unloadRoutine() const {
    return m->readPointer(m->driver + m->layout->drvDriverUnload);
}
uint32_t NtKernel::deviceFlags() const {
    const uint64_t device = m->readPointer(m->driver + m->layout->drvDeviceObject);
    return device ? static_cast<uint32_t>(m->read(device + m->layout->devFlags, 4)) : 0;
}
const std::vector<DeviceRecord>& NtKernel::devices() const {
    return m->devices;
}
const std::map<std::string, std::string>& NtKernel::links() const {
    return m->links;
}
const std::vector<Mapping>& NtKernel::mappings() const {
    return m->mappings;
}
int NtKernel::openHandles() const {
    return static_cast<int>(m->handles.size());
}
void NtKernel::failService(const std::string& name, uint32_t status) {
    m->failures[name] = status;
}

} // namespace ntdriver
