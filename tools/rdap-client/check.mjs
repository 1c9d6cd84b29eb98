// A real RDAP client (node-rdap, from the npm registry) pointed at the service by its own
// bootstrap table, asking for a port-43-only TLD, an RDAP TLD and a free name.
import { domain } from "node-rdap";
import { dnsCache } from "node-rdap/dist/tsc/cache/index.js";
await dnsCache.set({ services: [[["com", "cn", "org"], ["http://127.0.0.1:8099/rdap/"]]] });
for (const name of ["example.com.cn", "example-shop.com", "free-name-42.com"]) {
  try {
    const d = await domain(name);
    const registrar = d.entities.find(e => e.roles.includes("registrar"));
    console.log(name, "->", d.objectClassName, d.ldhName, JSON.stringify(d.status),
      d.events.map(e => e.eventAction + "=" + e.eventDate).join(" "),
      "registrar:", registrar.vcardArray[1].find(p => p[0] === "fn")[3],
      "source:", d.notices[0].description.join(" | "));
  } catch (e) { console.log(name, "->", e.message); }
}
