// Writes what Wine writes when a program ends in an unhandled exception, then exits 0, as Wine's process does
// after a crash in some threads. The runner must count the run as failed all the same.
#include <cstdio>

int main()
{
    std::fputs("wine: Unhandled page fault on read access to 0000000000000000 at address 0000000140002926 "
               "(thread 032c), starting debugger...\n",
               stderr);
    return 0;
}
