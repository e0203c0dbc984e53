/* A macOS program built with -g whose .dSYM bundle dsymutil makes: C's tentative definition
   is a common symbol, but its debug information describes a variable, not a COMMON block. */
int counter;
int start(void) { return ++counter; }
