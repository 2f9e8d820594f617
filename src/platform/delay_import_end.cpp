// The empty descriptor that closes the delay import directory. The delay-load libraries put one
// descriptor each into .text$2, which the linker gathers in one run; this section sorts right
// after them. tools/delay_imports.py checks the layout when it fills in the directory.
__asm__(".section .text$3,\"xr\"\n"
        "\t.space 32\n"
        "\t.text\n");
