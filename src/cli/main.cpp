#include <cstdio>
int main() { std::puts("korvane-cli"); return 0; }
