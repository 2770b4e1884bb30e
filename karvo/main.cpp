#include "karvo/karvo.hpp"

int main(int argc, char** argv) { return karvo::main(argc, argv); }
