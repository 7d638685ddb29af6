// Lists a network the straightforward way: the platform's inet_ntop and puts for every
// address. Usage: ref_lister inet|inet6 first-address prefix-length
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int af = std::strcmp(argv[1], "inet6") == 0 ? AF_INET6 : AF_INET;
  unsigned char a[16] = {};
  if (inet_pton(af, argv[2], a) != 1) return 2;
  const int size = af == AF_INET ? 4 : 16;
  const int len = std::atoi(argv[3]);
  const int host_bits = size * 8 - len;
  if (host_bits < 0 || host_bits > 40) return 2;
  char text[INET6_ADDRSTRLEN];
  for (unsigned long long n = 0, count = 1ull << host_bits; n < count; ++n) {
    if (inet_ntop(af, a, text, sizeof text) == nullptr || std::puts(text) < 0) return 1;
    for (int i = size - 1; i >= 0 && ++a[i] == 0; --i) {
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
