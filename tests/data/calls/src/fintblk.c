/* A block named like the procedure fint_ that calls.c calls. */
float fint_[5];
