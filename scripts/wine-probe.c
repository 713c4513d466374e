/* scripts/wine-env.sh runs this i686 program under the 32-bit Wine loader:
   it returns 32 only when it really ran as 32-bit x86 code. */
int main(void) { return (int)(sizeof(void *) * 8); }
