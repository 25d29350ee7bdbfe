// Velomark's scanners for a web page, over the eSCL endpoints of `velomark --share`:
//
//   import { connect } from 'http://127.0.0.1:8090/velomark.js';
//   const scanner = await connect('http://127.0.0.1:8090');
//   for await (const page of scanner.scan({ color: 'gray', resolution: 150 }))
//     document.body.append(Object.assign(new Image(), { src: URL.createObjectURL(page.blob) }));
//
// A page on another origin reaches Velomark only when the user allowed that origin
// (--allow-origin=ORIGIN, or the settings).

const SCAN = 'http://schemas.hp.com/imaging/escl/2011/05/03';
const PWG = 'http://www.pwg.org/schemas/2010/12/sm';
const TICKET_KEYS = ['device', 'input', 'color', 'resolution', 'area', 'pages'];
const INPUTS = { flatbed: 'Platen', feeder: 'Feeder', duplex: 'Feeder' };
const COLORS = { rgb: 'RGB24', gray: 'Grayscale8', bw: 'BlackAndWhite1' };
// The most scanners looked for at /eSCL/<n>: Velomark has no list of them.
const MOST_SCANNERS = 64;

export class ScanError extends Error {}

function texts(node, namespace, name) {
  return Array.from(node.getElementsByTagNameNS(namespace, name), (e) => e.textContent.trim());
}

function readDevice(xml, path) {
  const doc = new DOMParser().parseFromString(xml, 'application/xml');
  const inputs = [];
  if (doc.getElementsByTagNameNS(SCAN, 'Platen').length) inputs.push('flatbed');
  if (doc.getElementsByTagNameNS(SCAN, 'Adf').length) inputs.push('feeder');
  if (doc.getElementsByTagNameNS(SCAN, 'AdfDuplexInputCaps').length) inputs.push('duplex');
  const modes = new Set(texts(doc, SCAN, 'ColorMode'));
  const colors = Object.keys(COLORS).filter((word) => modes.has(COLORS[word]));
  const resolutions = [...new Set(texts(doc, SCAN, 'XResolution').map(Number))]
    .filter((dpi) => dpi > 0)
    .sort((a, b) => a - b);
  return { name: texts(doc, PWG, 'MakeAndModel')[0] || path, path, inputs, colors, resolutions };
}

// Width, height and dpi from a PNG's IHDR and pHYs chunks (dpi 0 when absent).
export function pngInfo(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const info = { width: 0, height: 0, resolution: 0 };
  for (let at = 8; at + 12 <= bytes.length; ) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    if (type === 'IHDR') {
      info.width = view.getUint32(at + 8);
      info.height = view.getUint32(at + 12);
    } else if (type === 'pHYs' && bytes[at + 16] === 1) {
      info.resolution = Math.round(view.getUint32(at + 8) * 0.0254);
    } else if (type === 'IDAT') {
      break;
    }
    at += 12 + length;
  }
  return info;
}

function element(name, value) {
  return `<${name}>${value}</${name}>`;
}

function settingsXml(ticket) {
  let body = element('pwg:Version', '2.0');
  if (ticket.area) {
    // The ticket's 1/1200 inch, eSCL's 1/300.
    const [left, top, width, height] = String(ticket.area).split(',').map((n) => Math.round(Number(n) / 4));
    body += element('pwg:ScanRegions', element('pwg:ScanRegion',
      element('pwg:ContentRegionUnits', 'escl:ThreeHundredthsOfInches') + element('pwg:XOffset', left) +
      element('pwg:YOffset', top) + element('pwg:Width', width) + element('pwg:Height', height)));
  }
  if (INPUTS[ticket.input]) body += element('pwg:InputSource', INPUTS[ticket.input]);
  if (COLORS[ticket.color]) body += element('scan:ColorMode', COLORS[ticket.color]);
  body += element('pwg:DocumentFormat', 'image/png') + element('scan:DocumentFormatExt', 'image/png');
  if (ticket.resolution) {
    const [x, y] = String(ticket.resolution).split('x');
    body += element('scan:XResolution', Number(x)) + element('scan:YResolution', Number(y || x));
  }
  if (ticket.input === 'duplex') body += element('scan:Duplex', 'true');
  return `<?xml version="1.0" encoding="UTF-8"?><scan:ScanSettings xmlns:scan="${SCAN}" ` +
    `xmlns:pwg="${PWG}">${body}</scan:ScanSettings>`;
}

function checkTicket(ticket) {
  for (const key of Object.keys(ticket))
    if (!TICKET_KEYS.includes(key)) throw new ScanError(`A scan has no setting "${key}"`);
  if (ticket.input !== undefined && ticket.input !== 'auto' && !INPUTS[ticket.input])
    throw new ScanError(`"${ticket.input}" is not an input (flatbed, feeder, duplex)`);
  if (ticket.color !== undefined && ticket.color !== 'auto' && !COLORS[ticket.color])
    throw new ScanError(`"${ticket.color}" is not a colour mode (rgb, gray, bw)`);
  if (ticket.resolution !== undefined && !/^\d+(x\d+)?$/.test(String(ticket.resolution)))
    throw new ScanError(`"${ticket.resolution}" is not a resolution in dpi`);
  if (ticket.area !== undefined && !/^\d+,\d+,\d+,\d+$/.test(String(ticket.area)))
    throw new ScanError('An area is left,top,width,height in 1/1200 inch');
}

// What the server's refusal means, for a person.
async function plainWords(answer) {
  if (answer.status === 409) return 'The scanner has a paper jam or its cover is open';
  const text = (await answer.text()).trim();
  if (!text) return `The scanner answered ${answer.status}`;
  return text[0].toUpperCase() + text.slice(1);
}

class Scanner {
  #base;
  #job = null;
  #cancelled = false;

  constructor(base) {
    this.#base = base;
  }

  async #fetch(path, options) {
    try {
      return await fetch(new URL(path, this.#base), options);
    } catch {
      throw new ScanError('Velomark cannot be reached from this page (is it sharing, and is this origin allowed?)');
    }
  }

  // Every scanner: { name, path, inputs, colors, resolutions } in a ticket's words.
  async devices() {
    const found = [];
    for (let n = 1; n <= MOST_SCANNERS; ++n) {
      const answer = await this.#fetch(`/eSCL/${n}/ScannerCapabilities`);
      if (!answer.ok) break;
      found.push(readDevice(await answer.text(), `/eSCL/${n}`));
    }
    return found;
  }

  // The pages of one job as they come: { blob, width, height, resolution }.
  async *scan(ticket = {}) {
    checkTicket(ticket);
    let path = '/eSCL';
    if (ticket.device) {
      const device = (await this.devices()).find((d) => d.name === ticket.device);
      if (!device) throw new ScanError(`There is no scanner named "${ticket.device}"`);
      path = device.path;
    }
    const created = await this.#fetch(`${path}/ScanJobs`, {
      method: 'POST',
      headers: { 'Content-Type': 'text/xml' },
      body: settingsXml(ticket),
    });
    if (created.status !== 201) throw new ScanError(await plainWords(created));
    const job = created.headers.get('Location');
    this.#job = job;
    this.#cancelled = false;
    let count = 0;
    try {
      while (!(ticket.pages > 0) || count < ticket.pages) {
        const answer = await this.#fetch(`${job}/NextDocument`);
        if (answer.status === 404) {
          if (count === 0 && !this.#cancelled && INPUTS[ticket.input] === 'Feeder')
            throw new ScanError('The feeder is empty');
          break;
        }
        if (!answer.ok) throw new ScanError(await plainWords(answer));
        const blob = await answer.blob();
        const info = pngInfo(new Uint8Array(await blob.arrayBuffer()));
        ++count;
        yield { blob, width: info.width, height: info.height, resolution: info.resolution };
      }
    } finally {
      this.#job = null;
      // Ends the job on the scanner too when the caller stopped early.
      await fetch(new URL(job, this.#base), { method: 'DELETE' }).catch(() => {});
    }
  }

  // Stops the job in progress; its scan() ends after the pages already sent.
  async cancel() {
    if (!this.#job) return;
    this.#cancelled = true;
    await this.#fetch(this.#job, { method: 'DELETE' });
  }
}

// A scanner object for the Velomark at `baseUrl` (http://HOST:PORT); rejects when
// it cannot be reached from this page.
export async function connect(baseUrl) {
  const base = new URL(baseUrl, typeof location === 'undefined' ? undefined : location.href);
  base.pathname = '/';
  const scanner = new Scanner(base.href);
  await scanner.devices().then((found) => {
    if (!found.length) throw new ScanError('Velomark shares no scanner');
  });
  return scanner;
}
