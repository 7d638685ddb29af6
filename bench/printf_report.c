/* The seven lines of a short IPv4 report, printed with printf: the start-up floor. */
#include <stdio.h>

int main(void) {
  const char* p = "";
  printf("%srange:       %s > %s\n", p, "192.168.1.0", "192.168.1.255");
  printf("%srange b10:   %u > %u\n", p, 3232235776u, 3232236031u);
  printf("%srange b16:   0x%x > 0x%x\n", p, 3232235776u, 3232236031u);
  printf("%shosts:       %.0f\n", p, 256.0);
  printf("%sprefixlen:   %lu\n", p, 24ul);
  printf("%snetmask:     %s\n", p, "255.255.255.0");
  printf("%smask:        %s\n", p, "0.0.0.255");
  return 0;
}
