// Velomark's own page: the scanners' settings, Scan, each page as it arrives, and
// downloads. Everything goes through velomark.js, so the page uses the scanners
// exactly as a web application would.
import { connect } from '/velomark.js';
import { pagesToPdf } from '/pdf.js';

const $ = (id) => document.getElementById(id);
const WORDS = {
  flatbed: 'Flatbed', feeder: 'Document feeder', duplex: 'Feeder, both sides',
  rgb: 'Colour', gray: 'Grey', bw: 'Black and white',
};
let scanner = null;
let devices = [];
let blobs = [];
// The pages' object URLs, let go when the next scan replaces them: pages are large.
let urls = [];

function objectUrl(blob) {
  urls.push(URL.createObjectURL(blob));
  return urls[urls.length - 1];
}

function showError(text) {
  $('error').textContent = text;
  $('error').hidden = !text;
}

function fill(select, values, label) {
  select.replaceChildren(...values.map((value) => new Option(label(value), value)));
}

function showDevice() {
  const device = devices[$('device').selectedIndex];
  if (!device) return;
  fill($('input'), device.inputs, (word) => WORDS[word]);
  fill($('color'), device.colors, (word) => WORDS[word]);
  fill($('resolution'), device.resolutions, String);
}

function addPage(page, number) {
  const url = objectUrl(page.blob);
  const figure = document.createElement('figure');
  const img = Object.assign(document.createElement('img'), {
    className: 'page', src: url, alt: `Page ${number}`, width: page.width, height: page.height,
  });
  img.dataset.number = number;
  const caption = document.createElement('figcaption');
  const link = Object.assign(document.createElement('a'), {
    href: url, download: `page-${number}.png`, textContent: `Download page ${number} (PNG)`,
  });
  caption.append(`Page ${number} `, link);
  figure.append(img, caption);
  $('pages').append(figure);
}

async function scan(event) {
  event.preventDefault();
  showError('');
  $('scan').disabled = true;
  $('cancel').disabled = false;
  $('pdf').hidden = true;
  $('pages').replaceChildren();
  urls.forEach((url) => URL.revokeObjectURL(url));
  urls = [];
  blobs = [];
  $('status').textContent = 'Scanning…';
  // A scanner that offers no choice of a setting leaves it to its default.
  const ticket = Object.fromEntries(['device', 'input', 'color', 'resolution']
    .map((key) => [key, $(key).value]).filter(([, value]) => value));
  try {
    for await (const page of scanner.scan(ticket)) {
      blobs.push(page.blob);
      addPage(page, blobs.length);
      $('status').textContent = `Page ${blobs.length} received`;
    }
    $('status').textContent = `${blobs.length} page${blobs.length === 1 ? '' : 's'} scanned`;
    if (blobs.length) {
      $('pdf').href = objectUrl(await pagesToPdf(blobs));
      $('pdf').hidden = false;
    }
  } catch (error) {
    $('status').textContent = '';
    showError(error.message);
  } finally {
    $('scan').disabled = false;
    $('cancel').disabled = true;
  }
}

async function start() {
  try {
    scanner = await connect(location.origin);
    devices = await scanner.devices();
    fill($('device'), devices.map((d) => d.name), String);
    showDevice();
    $('scan').disabled = false;
  } catch (error) {
    showError(error.message);
  }
}

$('device').addEventListener('change', showDevice);
$('settings').addEventListener('submit', scan);
$('cancel').addEventListener('click', () => scanner && scanner.cancel());
start();
