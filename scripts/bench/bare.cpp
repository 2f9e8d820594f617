// The bare program of the start-up benchmark: a process that does nothing and returns 0, so that
// what Wine costs to start and end any program shows apart from the work of the others.
extern "C" int benchStart() {
    return 0;
}
