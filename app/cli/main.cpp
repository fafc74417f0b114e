#include <cstdio>

int main(int, char**)
{
    std::fprintf(stderr, "usage: dravelin-dicom COMMAND ...\n");
    return 2;
}
