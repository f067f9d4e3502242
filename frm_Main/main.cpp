// Placeholder until the headless server lands.
int main() { return 0; }
