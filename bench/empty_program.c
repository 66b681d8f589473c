/* The yardstick for start-up cost: a statically linked Windows program that does nothing. */
int main(void) { return 0; }
