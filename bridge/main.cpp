// gm7bridge: loads the GoldMine API library in a process of its own bitness
// and serves its calls to the parent over standard input and output (see
// Protocol.h). Usage: gm7bridge [--library NAME-OR-PATH]
#include "bridge/Library.h"
#include "bridge/Server.h"
#include "bridge/Stream.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char *argv[])
{
    std::string library = bridge::Library::defaultName();
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--library") == 0 && index + 1 < argc) {
            library = argv[++index];
        } else {
            std::fputs("usage: gm7bridge [--library NAME-OR-PATH]\n"
                       "Serves the GoldMine API's calls over standard input and output; the\n"
                       "program that needs them starts it.\n",
                       stderr);
            return 64;
        }
    }
    // A program that stops reading makes a write fail, not end the bridge.
    bridge::ignoreBrokenPipes();
    bridge::Library api(library);
    bridge::InputStream input(bridge::standardInput());
    bridge::OutputStream output(bridge::standardOutput());
    bridge::Server server(api, input, output);
    const int status = server.run();
    if (status != 0)
        std::fprintf(stderr, "gm7bridge: %s\n", server.failure().c_str());
    return status;
}
