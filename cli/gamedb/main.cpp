// gamedb: unpack the game's databases into tables, pack them back, check and compare.
#ifdef _WIN32
int wmain() { return 0; }
#else
int main() { return 0; }
#endif
