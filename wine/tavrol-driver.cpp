// tavrol-driver.exe: the Wine suite's hands inside Wine. It runs Tavrol.exe and works its windows
// with window messages, answers its message boxes, sends raw requests to the kernel driver and
// reads the registry and the service manager. Every observation is printed as one "key=value"
// line; the suite on the Linux side makes the judgements.
#include "helper.h"

#include <stdio.h>

namespace {

int usage() {
    fputs("usage: tavrol-driver COMMAND ...\n"
          "  service-start PATH | service-remove | service-query | service-path\n"
          "  requests CODE,INLEN,OUTLEN[,HEX] ... | device-open PATH ...\n"
          "  reg-get KEY VALUE | reg-set KEY VALUE dword|binary|string DATA\n"
          "  reg-delete KEY [VALUE]\n"
          "  task-get NAME | task-register NAME XML\n"
          "  run COMMANDLINE (waits for every process it starts)\n"
          "  session EXE ARGS STEP ...\n"
          "  steps: dialog dump select:ID:TEXT click:ID command:ID box answer:ID no-box\n"
          "         sleep:MS decoy foreground launch:ARGS service exit syscommand:ID other:ID\n"
          "         handshake:NAME service-path file:PATH other-icon run:COMMANDLINE\n"
          "         (box:MS waits MS at most)\n",
          stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "service-start" && argc == 3)
        return serviceStart(argv[2]);
    if (command == "service-remove" && argc == 2)
        return serviceRemove();
    if (command == "service-query" && argc == 2)
        return serviceQuery();
    if (command == "service-path" && argc == 2)
        return servicePath();
    if (command == "requests")
        return sendRequests(argc - 2, argv + 2);
    if (command == "device-open")
        return deviceOpen(argc - 2, argv + 2);
    if (command == "reg-get" && argc == 4)
        return registryGet(argv[2], argv[3]);
    if (command == "reg-set" && argc == 6)
        return registrySet(argv[2], argv[3], argv[4], argv[5]);
    if (command == "reg-delete" && (argc == 3 || argc == 4))
        return registryDelete(argv[2], argc == 4 ? argv[3] : nullptr);
    if (command == "task-get" && argc == 3)
        return taskGet(argv[2]);
    if (command == "task-register" && argc == 4)
        return taskRegister(argv[2], argv[3]);
    if (command == "run" && argc == 3)
        return runToTheEnd(argv[2]);
    if (command == "session" && argc >= 4)
        return session(argv[2], argv[3], argc - 4, argv + 4);
    return usage();
}
