#include "app/quillet_free.h"

int main(int argc, char** argv) {
    return quillet::Run(argc, argv);
}
