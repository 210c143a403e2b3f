// A stand-in executable that only carries a version resource, for the migration tests.
int main() { return 0; }
