// All pages as one PDF, made in the page: each PNG's compressed rows go into the
// PDF as they are (PDF's Flate filter with PNG predictors reads them), so nothing
// is decoded, nothing is lost, and no library is needed. A page has the scan's
// physical size: pixels over the PNG's resolution.

const encoder = new TextEncoder();

// IHDR's facts and the IDAT data of a non-interlaced grey or RGB PNG.
function readPng(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const png = { width: 0, height: 0, depth: 8, colors: 0, dpi: 0, data: [] };
  for (let at = 8; at + 12 <= bytes.length; ) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      png.width = view.getUint32(at + 8);
      png.height = view.getUint32(at + 12);
      png.depth = body[8];
      png.colors = { 0: 1, 2: 3 }[body[9]] || 0;
      if (body[12] !== 0) png.colors = 0;  // interlaced rows are not PDF's
    } else if (type === 'pHYs' && body[8] === 1) {
      png.dpi = view.getUint32(at + 8) * 0.0254;
    } else if (type === 'IDAT') {
      png.data.push(body);
    }
    at += 12 + length;
  }
  if (!png.colors || !png.width || !png.height) throw new Error('a page is not a grey or colour PNG');
  return png;
}

export async function pagesToPdf(blobs) {
  const parts = [];
  const offsets = [];
  let size = 0;
  const add = (part) => {
    const bytes = typeof part === 'string' ? encoder.encode(part) : part;
    parts.push(bytes);
    size += bytes.length;
  };
  const object = (number, text) => {
    offsets[number] = size;
    add(`${number} 0 obj\n${text}\nendobj\n`);
  };
  add('%PDF-1.4\n%\xe2\xe3\xcf\xd3\n');
  const kids = [];
  for (let i = 0; i < blobs.length; ++i) {
    const png = readPng(new Uint8Array(await blobs[i].arrayBuffer()));
    const dpi = png.dpi || 72;
    const w = ((png.width * 72) / dpi).toFixed(2);
    const h = ((png.height * 72) / dpi).toFixed(2);
    const [page, content, image] = [3 + 3 * i, 4 + 3 * i, 5 + 3 * i];
    kids.push(`${page} 0 R`);
    object(page, `<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ${w} ${h}] ` +
      `/Resources << /XObject << /Im ${image} 0 R >> >> /Contents ${content} 0 R >>`);
    const draw = `q ${w} 0 0 ${h} 0 0 cm /Im Do Q`;
    object(content, `<< /Length ${draw.length} >>\nstream\n${draw}\nendstream`);
    const length = png.data.reduce((sum, chunk) => sum + chunk.length, 0);
    offsets[image] = size;
    add(`${image} 0 obj\n<< /Type /XObject /Subtype /Image /Width ${png.width} /Height ${png.height} ` +
      `/ColorSpace /${png.colors === 1 ? 'DeviceGray' : 'DeviceRGB'} /BitsPerComponent ${png.depth} ` +
      `/Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors ${png.colors} ` +
      `/BitsPerComponent ${png.depth} /Columns ${png.width} >> /Length ${length} >>\nstream\n`);
    png.data.forEach(add);
    add('\nendstream\nendobj\n');
  }
  object(1, '<< /Type /Catalog /Pages 2 0 R >>');
  object(2, `<< /Type /Pages /Kids [${kids.join(' ')}] /Count ${kids.length} >>`);
  const count = 3 + 3 * blobs.length;
  const xref = size;
  let table = `xref\n0 ${count}\n0000000000 65535 f \n`;
  for (let n = 1; n < count; ++n) table += `${String(offsets[n]).padStart(10, '0')} 00000 n \n`;
  add(table + `trailer\n<< /Size ${count} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`);
  return new Blob(parts, { type: 'application/pdf' });
}
