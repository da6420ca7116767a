// A host program of the installed package.
#include <quorvane/Quorvane.hpp>

#include <iostream>

int main() {
    quorvane::QVError error("reachable", 200);
    std::cout << error.what() << '\n';
    return 0;
}
