// One page per record: ?file=simulation.h5&path=/plots/energy
import { StrictMode, useEffect, useState } from 'react';
import { createRoot } from 'react-dom/client';
import { App } from '@h5web/app';
import { H5WasmBufferProvider } from '@h5web/h5wasm';
import '@h5web/app/styles.css';

const params = new URLSearchParams(window.location.search);
const filename = params.get('file') || 'simulation.h5';
const initialPath = params.get('path') || '/';

function Viewer() {
  const [buffer, setBuffer] = useState();
  const [failure, setFailure] = useState();

  useEffect(() => {
    fetch(`/${filename}`)
      .then((r) => {
        if (!r.ok) throw new Error(`fetching ${filename}: HTTP ${r.status}`);
        return r.arrayBuffer();
      })
      .then(setBuffer, (e) => setFailure(String(e)));
  }, []);

  // The driver looks for this class to tell a fetch failure from an h5web one.
  if (failure) return <p className="error loader-error">{failure}</p>;
  if (!buffer) return <p>loading {filename}</p>;
  return (
    <H5WasmBufferProvider filename={filename} buffer={buffer}>
      <App initialPath={initialPath} disableDarkMode />
    </H5WasmBufferProvider>
  );
}

createRoot(document.getElementById('root')).render(
  <StrictMode>
    <Viewer />
  </StrictMode>,
);
