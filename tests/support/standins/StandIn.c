/* A stand-in for a mail client's program file: only its version resource
   matters; it is never run. */
int main(void) { return 0; }
