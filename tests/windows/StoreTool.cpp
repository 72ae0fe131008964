// gm7store: makes a store with the 32-bit stand-in DLL itself, so that its
// password hash is one the DLL can check. For the tests under Wine.
//
//   gm7store init DIR USER      (the password is read from standard input)
#include "standin/gm7s32/Store.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char *argv[])
{
    if (argc != 4 || std::string(argv[1]) != "init") {
        std::fputs("usage: gm7store init DIR USER\n", stderr);
        return 2;
    }
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    std::string error;
    const bool created = gm7s32::createStore(argv[2], argv[3], password, &error);
    password.assign(password.size(), '\0');
    if (!created) {
        std::fprintf(stderr, "gm7store: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
