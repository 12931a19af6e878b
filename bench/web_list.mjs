// A price list of LINES price lines and FACTORS factors, as a shop's might
// be: the bytes of a database file. Shared by the browser benchmark and the
// browser tests. Deterministic: the same arguments give the same bytes.
// bench/child.c's make_shop_list writes the same bytes for request_bench:
// change the two together.
export function shopList(lines, factors, key = 'k1') {
  const words = ['Oak', 'Birch', 'Pine', 'Steel', 'Walnut', 'Ash', 'Teak', 'Maple'];
  const things = ['chair', 'table', 'lamp', 'shelf', 'desk', 'stool', 'bench', 'cabinet', 'bed', 'sofa'];
  const out = [key, String(factors)];
  for (let f = 0; f < factors; f++) out.push(`f${f + 1} ${(0.5 + f / 100).toFixed(2)}`);
  out.push('Winter prices 2026', 'All prices in euros', String(lines));
  let seed = 12345;
  // The high bits of a linear congruential generator; its low bits repeat soon.
  const next = () => Math.floor((seed = (seed * 1103515245 + 12345) % 2147483648) / 65536);
  for (let i = 0; i < lines; i++) {
    const size = `${40 + (next() % 16) * 10}x${40 + (next() % 16) * 10}`;
    const name = `${words[next() % words.length]} ${things[next() % things.length]} ${size} cm no. ${String(i + 1).padStart(5, '0')}`;
    out.push(`${name} ${(next() % 100000 / 100 + 1).toFixed(2)}`);
  }
  out.push('Prices valid until further notice.');
  return out.join('\n') + '\n';
}
